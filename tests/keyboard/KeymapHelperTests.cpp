// wispen-keymap-helper's requests, answered by the helper over a simulated kernel
// run as a plain child process (SimulatedKeymapHelper.cpp), and the remapping
// carried out through it for a store that may not open the devices itself.
#include "HelperInputDevices.h"
#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <gtest/gtest.h>

using namespace KeyboardTest;

namespace {

std::unique_ptr<HelperInputDevices> helper() {
    return std::make_unique<HelperInputDevices>(QStringLiteral(WISPEN_SIMULATED_KEYMAP_HELPER),
                                                QStringList());
}

// 786639 is the microphone key's scancode, 458814 F5's, 458862 F19's; 582 is
// KEY_VOICECOMMAND, 189 KEY_F19, 63 KEY_F5.
TEST(KeymapHelper, AnswersOnlyTheMicrophoneMappingsKeymapRequestsOfKeyboards) {
    const std::pair<const char*, const char*> exchanges[] = {
        {"list", "ok 3,3 7,7 8,7"},      {"get 8 458862", "ok 189"}, {"set 3 458814 63", "ok"},
        {"get 5 786639", "gone"},        // a remote control's keymap is not a keyboard's
        {"get 3 458756", "refused"},     // the letter A
        {"set 3 458814 189", "refused"}, // F5 only back to itself
        {"set 3 786639 30", "refused"},  // to KEY_A
        {"get 3 0xC00CF", "refused"},    {"list x", "refused"},
    };
    const auto devices = helper();
    for (const auto& [request, answer] : exchanges)
        EXPECT_EQ(devices->ask(QString::fromUtf8(request)), QString::fromUtf8(answer)) << request;
}

TEST(KeymapHelper, CarriesTheRemappingForAStoreDeniedTheDevices) {
    SimulatedKernel kernel;
    kernel.plug(SimulatedDevices::keyboard(3));
    kernel.device(3)->denied = true;
    HIDKeyboardMappingStore store(std::make_unique<SimulatedInputDevices>(kernel), helper());
    MemoryUserDefaults defaults;
    MicrophoneKey key(defaults, store, [] { return QStringLiteral("boot"); });
    key.enable();
    EXPECT_EQ(store.read(), (QList<DeviceMapping>{{"3", {{micKey, f19}}, {micKey}},
                                                  {"7", {{micKey, f19}}, {micKey}}}));
    key.disable();
    EXPECT_EQ(store.read(), (QList<DeviceMapping>{{"3", {}, {micKey}}, {"7", {}, {micKey}}}));
}

} // namespace
