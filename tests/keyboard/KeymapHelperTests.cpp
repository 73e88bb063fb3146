// wispen-keymap-helper over a simulated kernel, run as a plain child process
// (SimulatedKeymapHelper.cpp): the remapping carried out through it for a store that
// may not open the devices itself, and the requests it refuses.
#include "HelperInputDevices.h"
#include "MicrophoneKey.h"
#include "SimulatedInputDevices.h"

#include <gtest/gtest.h>

using namespace KeyboardTest;

namespace {

TEST(KeymapHelper, CarriesTheRemappingForAStoreDeniedTheDevicesAndNothingElse) {
    SimulatedKernel kernel;
    kernel.plug(SimulatedDevices::keyboard(3));
    kernel.device(3)->denied = true;
    auto helper = std::make_unique<HelperInputDevices>(
        QStringLiteral(WISPEN_SIMULATED_KEYMAP_HELPER), QStringList());
    // 786639 is the microphone key's scancode, 458814 F5's, 458756 the letter A's;
    // 30 is KEY_A and 189 KEY_F19.
    for (const char* request : {"get 3 458756", "set 3 786639 30", "set 3 458814 189"})
        EXPECT_EQ(helper->ask(request), "refused") << request;
    HIDKeyboardMappingStore store(std::make_unique<SimulatedInputDevices>(kernel),
                                  std::move(helper));
    MemoryUserDefaults defaults;
    MicrophoneKey key(defaults, store, [] { return QStringLiteral("boot"); });
    key.enable();
    EXPECT_EQ(store.read(), (QList<DeviceMapping>{{"3", {{micKey, f19}}, {micKey}},
                                                  {"7", {{micKey, f19}}, {micKey}}}));
    key.disable();
    EXPECT_EQ(store.read().value(1), (DeviceMapping{"7", {}, {micKey}}));
}

} // namespace
