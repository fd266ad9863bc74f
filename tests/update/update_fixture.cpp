#include "tests/update/update_fixture.h"

#include "applink/frames.h"

namespace plctest {

namespace {

StateAtCall Snapshot() {
    return {elapsedTime,
            flashStatus,
            progress,
            errCounter,
            totalErrCounter,
            platform::OpenHandleCount(),
            platform::LoadedResourceCount()};
}

}  // namespace

void UpdateRun::SetUp() {
    EngineTest::SetUp();
    SetLinkOverride(nullptr);
    states.clear();
    enables = 0;
    // The fixture's recording, plus the state the run had left at each call.
    platform::FrontEndHooks hooks;
    hooks.messageBox = [this](HWND, const char* text, const char* caption, UINT type) {
        FrontEndEvent e{
            FrontEndEvent::MessageBox, text ? text : "", caption ? caption : "", type, 0, FALSE,
            platform::VirtualNowMs()};
        events.push_back(e);
        states.push_back(Snapshot());
        if (onMessage) onMessage(e);
        return IDOK;
    };
    hooks.killTimer = [this](HWND, UINT_PTR id) {
        events.push_back(
            {FrontEndEvent::KillTimer, "", "", 0, id, FALSE, platform::VirtualNowMs()});
        states.push_back(Snapshot());
        return TRUE;
    };
    hooks.enableWindow = [this](HWND, BOOL enable) {
        events.push_back(
            {FrontEndEvent::EnableWindow, "", "", 0, 0, enable, platform::VirtualNowMs()});
        states.push_back(Snapshot());
        if (enable) ++enables;
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
}

void UpdateRun::TearDown() {
    SetLinkOverride(nullptr);
    EngineTest::TearDown();
}

void UpdateRun::UseImage(size_t size) {
    image.resize(size);
    uint32_t x = 0x2545F491u;
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    // A non-null address also for an empty image: the resource exists, it is only empty.
    static const uint8_t kEmpty[1] = {0};
    platform::SetResourceImage(size ? image.data() : kEmpty, size);
}

std::shared_ptr<ScriptedPeer> UpdateRun::Plc(const std::string& name, bool viaOverride) {
    auto plc = std::make_shared<ScriptedPeer>();
    platform::RegisterVirtualLink(name, plc);
    if (viaOverride) SetLinkOverride(name.c_str());
    return plc;
}

void UpdateRun::Run() {
    StartBurn(&paramStruct);
}

FrontEndEvent UpdateRun::LastMessage() const {
    auto messages = Messages();
    return messages.empty() ? FrontEndEvent{} : messages.back();
}

std::vector<std::string> UpdateRun::MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : Messages()) out.push_back(m.text);
    return out;
}

std::string UpdateRun::Trace() const {
    std::string out;
    for (const auto& e : events) {
        switch (e.kind) {
            case FrontEndEvent::MessageBox:
                out += 'M';
                break;
            case FrontEndEvent::KillTimer:
                out += 'K';
                break;
            case FrontEndEvent::EnableWindow:
                out += e.enable ? 'E' : 'D';
                break;
        }
    }
    return out;
}

StateAtCall UpdateRun::AtEnable() const {
    for (size_t i = events.size(); i-- > 0;)
        if (events[i].kind == FrontEndEvent::EnableWindow && events[i].enable) return states[i];
    ADD_FAILURE() << "the button was never enabled again";
    return {};
}

void UpdateRun::DirtyRunState() {
    elapsedTime = 42;
    flashStatus = PROGRAM;
    progress = 37;
    errCounter = 3;
    totalErrCounter = 11;
}

void UpdateRun::ExpectFullRunEnd() const {
    EXPECT_EQ(elapsedTime, 0);
    EXPECT_EQ(flashStatus, IDLE);
    EXPECT_EQ(progress, 0);
    EXPECT_EQ(errCounter, 0);
    EXPECT_EQ(totalErrCounter, 0);
    EXPECT_EQ(platform::OpenHandleCount(), 0) << "link left open";
    EXPECT_EQ(platform::LoadedResourceCount(), 0) << "image not released";
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, FrontEndEvent::EnableWindow) << Trace();
    EXPECT_TRUE(events.back().enable);
    StateAtCall s = AtEnable();
    // The button comes back last: a run started with it finds everything of this one gone.
    EXPECT_EQ(s.elapsed, 0);
    EXPECT_EQ(s.phase, IDLE);
    EXPECT_EQ(s.totalErrors, 0);
    EXPECT_EQ(s.loadedImages, 0) << "image released after the button";
    EXPECT_EQ(s.openHandles, 0) << "link closed after the button";
}

void UpdateRun::ExpectStoppedWith(const std::string& text) const {
    ExpectError(LastMessage(), text);
    std::string trace = Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace.substr(trace.size() - 3), "KME") << trace;
}

void ExpectError(const FrontEndEvent& e, const std::string& text) {
    EXPECT_EQ(e.kind, FrontEndEvent::MessageBox);
    EXPECT_EQ(e.text, text);
    EXPECT_EQ(e.caption, "ERROR");
    EXPECT_EQ(e.type, MB_OK | MB_ICONERROR);
}

void ExpectInformation(const FrontEndEvent& e, const std::string& text,
                       const std::string& caption) {
    EXPECT_EQ(e.kind, FrontEndEvent::MessageBox);
    EXPECT_EQ(e.text, text);
    EXPECT_EQ(e.caption, caption);
    EXPECT_EQ(e.type, MB_OK | MB_ICONINFORMATION);
}

}  // namespace plctest
