// The simulated PLC's USB device in a sysfs tree: the files a host reads, and the entry's life
// across plugs, unplugs, a killed simulator's leftovers and a second simulator.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "sim/usb_sysfs.h"

namespace fs = std::filesystem;

namespace {

struct PresentableCase {
    const char* model;
    const char* location;
    bool ok;
};

TEST(UsbSysfs, ModelsAndLocationsPresentable) {
    const PresentableCase cases[] = {
        {"RP200", "1-2", true},     {"NV", "3-1.4.2", true},
        {"RP300", "12-10.1", true}, {"QM2-E", "1-2", false},
        {"RP200", "", false},       {"RP200", "1", false},
        {"RP200", "1-", false},     {"RP200", "-2", false},
        {"RP200", "1-2.", false},   {"RP200", "1-2..3", false},
        {"RP200", "1-02", false},   {"RP200", "0-2", false},
        {"RP200", "a-2", false},    {"RP200", "1-2:1.0", false},
        {"RP200", "1-2/3", false},  {"RP200", "../1-2", false},
        {"RP200", "1-2-3", false},  {"RP200", "1-1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1", false},
    };
    for (const PresentableCase& c : cases) {
        std::string error;
        EXPECT_EQ(plcsim::UsbPresentable(c.model, c.location, &error), c.ok)
            << c.model << " at '" << c.location << "': " << error;
        EXPECT_EQ(error.empty(), c.ok) << c.location;
    }
}

class UsbSysfsTree : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "plcusb.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        devices = root / "bus" / "usb" / "devices";
    }
    void TearDown() override { fs::remove_all(root); }

    plcsim::UsbDevice At(const std::string& location) const {
        return {root.string(), location, "1209"};
    }
    void Write(const fs::path& file, const std::string& text) const {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // Every file below dir, by its path relative to dir, with its contents.
    static std::map<std::string, std::string> Files(const fs::path& dir) {
        std::map<std::string, std::string> out;
        if (!fs::exists(dir)) return out;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            if (!e.is_regular_file()) continue;
            std::ostringstream text;
            text << std::ifstream(e.path()).rdbuf();
            out[fs::relative(e.path(), dir).string()] = text.str();
        }
        return out;
    }
    std::map<std::string, std::string> Names() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(devices)) out[e.path().filename()] = "";
        return out;
    }

    fs::path root, devices;
};

TEST_F(UsbSysfsTree, EntryAppearsVanishesAndComesBackWhole) {
    // A killed simulator's entry and half-built copy, and another PLC's entry that stays.
    Write(devices / "1-2" / "idVendor", "dead\n");
    Write(devices / "1-2" / "1-2:1.0" / "tty" / "ttyACM3" / "uevent", "DEVNAME=pts/3\n");
    Write(devices / ".1-2.new-99999" / "idVendor", "1209\n");
    Write(devices / "1-2.4" / "idVendor", "1209\n");
    const std::map<std::string, std::string> expected = {
        {"idVendor", "1209\n"},
        {"idProduct", "0001\n"},
        {"1-2:1.0/tty/ttyACM7/uevent", "MAJOR=136\nMINOR=7\nDEVNAME=ttyACM7\n"},
    };
    // The node: a link under the root to the pseudo-terminal, there while the device is.
    const fs::path node = root / "dev" / "ttyACM7";
    auto nodeTarget = [&] {
        std::error_code ec;
        return fs::read_symlink(node, ec).string();
    };
    {
        plcsim::UsbSysfsEntry entry(At("1-2"));
        std::string error;
        EXPECT_FALSE(entry.SetTty("/dev/ttyS0", &error));
        ASSERT_TRUE(entry.Claim(&error)) << error;
        EXPECT_FALSE(fs::exists(devices / "1-2"));
        EXPECT_FALSE(fs::exists(devices / ".1-2.new-99999"));
        ASSERT_TRUE(entry.SetTty("/dev/pts/7", &error)) << error;
        ASSERT_TRUE(entry.Plug(&error)) << error;
        EXPECT_EQ(Files(devices / "1-2"), expected);
        EXPECT_EQ(nodeTarget(), "/dev/pts/7");
        entry.Unplug();
        EXPECT_FALSE(fs::exists(devices / "1-2"));
        EXPECT_EQ(nodeTarget(), "");
        ASSERT_TRUE(entry.Follow(true, &error)) << error;
        EXPECT_EQ(Files(devices / "1-2"), expected);
        EXPECT_EQ(nodeTarget(), "/dev/pts/7");
        EXPECT_EQ(Names(), (std::map<std::string, std::string>{
                               {".1-2.plcsim", ""}, {"1-2", ""}, {"1-2.4", ""}}));
    }
    EXPECT_EQ(Names(), (std::map<std::string, std::string>{{"1-2.4", ""}}));
    EXPECT_EQ(nodeTarget(), "");
}

TEST_F(UsbSysfsTree, OneSimulatorALocation) {
    auto first = std::make_unique<plcsim::UsbSysfsEntry>(At("1-2"));
    std::string error;
    ASSERT_TRUE(first->Claim(&error)) << error;
    ASSERT_TRUE(first->SetTty("/dev/pts/4", &error) && first->Plug(&error)) << error;

    plcsim::UsbSysfsEntry second(At("1-2"));
    EXPECT_FALSE(second.Claim(&error));
    EXPECT_NE(error.find("pid " + std::to_string(getpid())), std::string::npos) << error;
    EXPECT_EQ(Files(devices / "1-2").count("idVendor"), 1u) << "the first's entry was touched";

    plcsim::UsbSysfsEntry elsewhere(At("1-3"));
    EXPECT_TRUE(elsewhere.Claim(&error)) << error;

    first.reset();
    EXPECT_TRUE(second.Claim(&error)) << error;
}

}  // namespace
