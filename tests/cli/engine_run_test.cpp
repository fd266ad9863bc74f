// The front end with the real worker and the simulated PLC on a virtual link: whole updates
// and failures as the command line reports them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"
#include "sim/sim.h"
#include "tests/device/fake_tree.h"
#include "tests/support/engine_fixture.h"
#include "update/update.h"

namespace {

const char EMBEDDED[] = "RP200_v1.14.10_20240103_01.bin";
const char LINK[] = "clisim";

class CliEngineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        plctest::ResetSharedState();
        platform::UnregisterAllVirtualLinks();
        platform::SetVirtualSleep(true);
    }
    void TearDown() override {
        platform::UnregisterAllVirtualLinks();
        platform::SetVirtualSleep(false);
        platform::UseEmbeddedResourceImage();
    }

    std::shared_ptr<plcsim::Plc> Attach(const char* model, std::vector<std::string> faults = {}) {
        auto plc = plcsim::Plc::Create(model);
        for (const auto& f : faults) EXPECT_TRUE(plc->AddFault(f)) << f;
        plcsim::AttachVirtual(plc, LINK);
        return plc;
    }

    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        plccli::Io io{out, err, in, false};
        return plccli::Main(args, EMBEDDED, io, plccli::Engine{&StartBurn, &SetLinkOverride});
    }

    std::ostringstream out, err;
    std::istringstream in;
};

TEST_F(CliEngineRun, EmbeddedImageIntoAUsbAttachedPlc) {
    auto plc = Attach("RP200");
    EXPECT_EQ(Run({"--port", LINK, "--yes"}), plccli::EXIT_SUCCESSFUL) << out.str() << err.str();
    size_t size = 0;
    const uint8_t* image = platform::EmbeddedImage(&size);
    ASSERT_NE(image, nullptr);
    plcsim::FlashCheck check = plc->CompareFlash(image, size);
    EXPECT_TRUE(check.equal) << check.detail;
    EXPECT_TRUE(plc->Errors().empty());
    std::string text = out.str();
    EXPECT_NE(text.find("[Information] Please REPLUG the USB Cable, and then press OK to continue\n"
                        "    "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("100%  Programming"), std::string::npos) << text;
    EXPECT_NE(
        text.find("[Information] Firmware update is SUCCESSFUL!, please REPLUG the USB cable\n"),
        std::string::npos);
}

TEST_F(CliEngineRun, ImageFileIntoAComPortPlc) {
    plctest::FakeTree tree;
    std::string file = tree.Path("QM2-E_v3.00.bin").string();
    std::vector<uint8_t> image(100000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    tree.File("QM2-E_v3.00.bin", std::string(image.begin(), image.end()));
    auto plc = Attach("QM2-E");
    EXPECT_EQ(Run({"--image", file, "--port", LINK}), plccli::EXIT_SUCCESSFUL) << out.str();
    plcsim::FlashCheck check = plc->CompareFlash(image.data(), image.size());
    EXPECT_TRUE(check.equal) << check.detail;
    EXPECT_NE(out.str().find("[INFORMATION] Firmware update is SUCCESSFUL\n"), std::string::npos)
        << out.str();
}

TEST_F(CliEngineRun, FailuresExitOneWithTheirMessage) {
    struct Case {
        std::vector<std::string> faults;
        const char* message;
    };
    const Case cases[] = {
        {{"runmode"}, "[ERROR] PLC in RUN MODE\n"},
        {{"silent"}, "[ERROR] NO RESPONSE @ State 1\n"},
        {{"nok-block:10"},
         "[ERROR] Flash write error, maybe due to flash write protection. RE-POWER PLC and update "
         "FW again\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults[0]);
        plctest::ResetSharedState();
        auto plc = Attach("RP200", c.faults);
        EXPECT_EQ(Run({"--port", LINK, "--yes"}), plccli::EXIT_FAILED);
        EXPECT_NE(out.str().find(c.message), std::string::npos) << out.str();
        EXPECT_EQ(platform::OpenHandleCount(), 0);
        EXPECT_EQ(platform::LoadedResourceCount(), 0);
    }
}

TEST_F(CliEngineRun, NoPlcOnTheLink) {
    EXPECT_EQ(Run({"--port", "/nonexistent/plc", "--yes"}), plccli::EXIT_FAILED);
    EXPECT_NE(out.str().find("[ERROR] CANNOT open /nonexistent/plc Port!!!\n"), std::string::npos)
        << out.str();
}

}  // namespace
