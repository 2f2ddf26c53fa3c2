// The Help menu: the About box opened and closed the ways a user would, its
// web address that keeps it open, and "View Help".
#include <string>
#include <vector>

#include "about_box_ids.h"
#include "e2e/scenario.h"
#include "main_window_ids.h"
#include "stories.h"

namespace {

const char AboutTitle[] = "About";

struct ChildSearch {
  const char* Text;  // a static with this text, or null for the picture
  HWND Found;
};

BOOL CALLBACK FindChild(HWND child, LPARAM param) {
  ChildSearch* search = reinterpret_cast<ChildSearch*>(param);
  char text[256] = "";
  GetWindowTextA(child, text, sizeof text);
  bool picture = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
  if (search->Text ? std::string(text) == search->Text : picture) {
    search->Found = child;
    return FALSE;
  }
  return TRUE;
}

HWND ChildOf(HWND dialog, const char* text) {
  ChildSearch search = {text, nullptr};
  EnumChildWindows(dialog, FindChild, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// A real left click in the middle of a control, through the system's input
// queue, so that hit testing decides which window gets it.
int ClickOn(AppSession* app, HWND control) {
  RECT rect;
  if (!control || !GetWindowRect(control, &rect)) return 0;
  if (!PlacePointer((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2)) return 0;
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  if (SendInput(2, input, sizeof(INPUT)) != 2) return 0;
  return Settle(app);
}

// Leaves the About box open on the screen and returns it.
HWND OpenAbout(AppSession* app) {
  if (!RunSteps(app, {{Do::Command, IDM_ABOUT}, {Do::Window, 0, AboutTitle}})) return nullptr;
  return CurrentDialog(app);
}

class AboutBox : public E2eScenario {
 protected:
  void SetUp() override {
    E2eScenario::SetUp();
    AddRegisteredDevice(0x04036001, "FT12AB34A", "COM5");
    WriteStandinDevices("device 0 8 04036001 1011 FT12AB34 Portmeld USB UART\n");
    // The shell hands web addresses to Wine's browser launcher; give it
    // nothing to start, so a clicked address opens no window on the desktop.
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>("true"), 5);
      RegCloseKey(key);
    }
  }
  void TearDown() override {
    E2eScenario::TearDown();
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser");
  }
};

}  // namespace

TEST_F(AboutBox, ShowsNameVersionPictureAndAddress) {
  Run(Start);
  HWND about = OpenAbout(&App);
  ASSERT_NE(nullptr, about) << App.Error;
  EXPECT_NE(nullptr, ChildOf(about, "Orvane Portmeld Configurator"));
  EXPECT_NE(nullptr, ChildOf(about, "Version 1.0"));
  HWND picture = ChildOf(about, nullptr);
  ASSERT_NE(nullptr, picture);
  EXPECT_NE(0, SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)) << "the bitmap did not load";
  Run({{Do::ExpectText, IDS_MAKER_ADDRESS, MAKER_WEB_ADDRESS},
       {Do::Key, VK_ESCAPE},
       {Do::Window, 0, MainTitle},
       {Do::NoMessage}});
  Run(CancelAndExit);
}

TEST_F(AboutBox, ClosesByEscapeCloseBoxOrAClickOutsideTheAddress) {
  enum Way { ESCAPE, CLOSE_BOX, CLICK_PICTURE, CLICK_NAME, CLICK_NOTICE };
  struct Case {
    const char* Label;
    Way How;
  } cases[] = {
      {"Escape", ESCAPE},
      {"close box", CLOSE_BOX},
      {"click on the picture", CLICK_PICTURE},
      {"click on the product name", CLICK_NAME},
      {"click on the notice line", CLICK_NOTICE},
  };
  Run(Start);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    HWND about = OpenAbout(&App);
    ASSERT_NE(nullptr, about) << App.Error;
    switch (c.How) {
      case ESCAPE:
        Run({{Do::Key, VK_ESCAPE}});
        break;
      case CLOSE_BOX:
        Run({{Do::CloseBox}});
        break;
      case CLICK_PICTURE:
        ASSERT_EQ(1, ClickOn(&App, ChildOf(about, nullptr))) << App.Error;
        break;
      case CLICK_NAME:
        ASSERT_EQ(1, ClickOn(&App, ChildOf(about, ABOUT_PRODUCT_TEXT))) << App.Error;
        break;
      case CLICK_NOTICE:
        ASSERT_EQ(1, ClickOn(&App, ChildOf(about, ABOUT_NOTICE_TEXT))) << App.Error;
        break;
    }
    EXPECT_FALSE(IsWindow(about));
    Run({{Do::Window, 0, MainTitle}, {Do::NoMessage}});
  }
  Run(CancelAndExit);
}

TEST_F(AboutBox, EnterAndAClickOnTheAddressLeaveItOpen) {
  Run(Start);
  HWND about = OpenAbout(&App);
  ASSERT_NE(nullptr, about) << App.Error;
  // No default button: Enter does nothing.
  Run({{Do::Key, VK_RETURN}, {Do::NoMessage}});
  EXPECT_TRUE(IsWindowVisible(about));
  ASSERT_EQ(1, ClickOn(&App, GetDlgItem(about, IDS_MAKER_ADDRESS))) << App.Error;
  Run({{Do::NoMessage}});
  EXPECT_TRUE(IsWindowVisible(about));
  Run({{Do::Key, VK_ESCAPE}, {Do::Window, 0, MainTitle}, {Do::NoMessage}});
  // "View Help" hands its document to the shell and shows nothing itself.
  Run(Then({{Do::Command, IDM_VIEW_HELP}, {Do::NoMessage}}, CancelAndExit));
}
