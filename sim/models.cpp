#include "sim/models.h"

#include "catalogue/catalogue.h"

namespace plcsim {

namespace {

Restart RestartOf(ReconnectKind kind) {
    switch (kind) {
        case RECONNECT_REPLUG_USB:
            return Restart::Replug;
        case RECONNECT_POWER_CYCLE_COM:
            return Restart::PowerCycle;
        case RECONNECT_PAUSE:
            break;
    }
    return Restart::AtOnce;
}

ModelTraits Build(uint32_t idx) {
    const PlcModel& m = PLC_MODELS[idx];
    ModelTraits t{};
    t.name = m.name;
    t.catalogueIdx = idx;
    t.id = m.id;
    t.usb = m.link == LINK_USB;
    t.aio = m.aio;
    t.pageBytes = m.pageBytes;
    t.blockBytes = m.blockBytes;
    t.omitsLast4K = m.keptBackBytes != 0;
    t.restart = RestartOf(m.reconnect);
    t.d1386 = m.d1386;
    t.d1001 = m.d1001;
    t.d1148 = m.d1148;
    return t;
}

struct Table {
    ModelTraits traits[PLC_COUNT];
    Table() {
        for (uint32_t i = 0; i < PLC_COUNT; ++i) traits[i] = Build(i);
    }
};

const Table& TheTable() {
    static const Table table;
    return table;
}

}  // namespace

const ModelTraits* FindModel(const std::string& name) {
    for (const ModelTraits& t : TheTable().traits)
        if (name == t.name) return &t;
    return nullptr;
}

}  // namespace plcsim
