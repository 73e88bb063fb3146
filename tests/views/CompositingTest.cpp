// The HUD's capsule follows the compositing manager of a real X server: the test
// desktop runs none, so the test plays one by owning _NET_WM_CM_S0.
#include "CompositingWatch.h"
#include "HUDCapsule.h"
#include "RecordingHUD.h"
#include "ReradazIzavo.h"
#include "WaitUntil.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

TEST(CompositingWatch, TheCapsuleIsTranslucentWhileACompositorRuns) {
    ReradazIzavo model;
    RecordingHUD hud(model);
    auto* capsule = hud.findChild<HUDCapsule*>();
    ASSERT_FALSE(CompositingWatch::instance().running()) << "the test desktop composites";
    EXPECT_FALSE(capsule->translucent());

    for (int run = 0; run < 2; ++run) {
        xcb_connection_t* compositor = xcb_connect(nullptr, nullptr);
        const xcb_window_t owner = xcb_generate_id(compositor);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(compositor)).data;
        xcb_create_window(compositor, 0, owner, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            compositor, xcb_intern_atom(compositor, false, 13, "_NET_WM_CM_S0"), nullptr);
        xcb_set_selection_owner(compositor, owner, atom->atom, XCB_CURRENT_TIME);
        xcb_flush(compositor);
        free(atom);
        EXPECT_TRUE(waitUntil([&] { return capsule->translucent(); }));
        xcb_disconnect(compositor); // the owner goes with its connection
        EXPECT_TRUE(waitUntil([&] { return !capsule->translucent(); }));
    }
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
