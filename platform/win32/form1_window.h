// Form1 on the screen: a fixed-size top-level window with the heading, the results box and the
// two buttons, laid out from twips at the window's DPI.
#pragma once

#include <windows.h>

#include "app/Form1.h"
#include "app/palette.h"
#include "platform/win32/handles/handles.h"

namespace win32 {

class MainWindow final : public app::Form1Window {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls for `form`, centred on the screen and inside its work
  // area, and shows it with the focus on "Chiudi". False when the window cannot be created.
  bool create(app::Form1& form, int showCommand);

  // Runs until the window is unloaded; the exit code of the utility.
  int runMessageLoop();

  // Form1Window
  rt::Text lblText() override;
  void setLblText(const rt::Text& text) override;
  void Unload() override;
  void showCriticalMessage(const rt::Text& text, const rt::Text& caption) override;
  void setBusy(bool busy) override;

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void createControls();
  void layout(UINT dpi);
  // The palette for the user's scheme as it is now, and the back brush made from it.
  void chooseColours();
  // The scheme changed while the window is open (system colours, High Contrast): the colours are
  // chosen again and the window and its controls painted anew.
  void schemeChanged();
  void drawButton(const DRAWITEMSTRUCT& item) const;
  // Runs an event procedure; a failure that leaves it ends the utility with the run-time error
  // message. An event that arrives while one runs (from inside a message box, the report
  // dialog or a COM call that pumps messages) starts nothing: a second run would overwrite the
  // failure the first one is reporting. A close asked for meanwhile waits for the run to end.
  void raiseEvent(void (app::Form1::*procedure)());
  void endWithRuntimeError(const rt::Text& message);

  HINSTANCE instance_;
  app::Form1* form_ = nullptr;
  HWND window_ = nullptr;
  HWND text1_ = nullptr;
  HWND lbl_ = nullptr;
  HWND cmdOk_ = nullptr;
  HWND cmdAnnulla_ = nullptr;
  HWND focusBeforeDeactivation_ = nullptr;
  app::Palette palette_{};
  handles::unique_hbrush backBrush_;  // palette_.windowBack, for the window and both text boxes
  handles::unique_hfont headingFont_;
  handles::unique_hfont resultsFont_;
  handles::unique_hfont buttonFont_;
  bool busy_ = false;
  bool placing_ = false;  // create() is moving the window to where it is shown
  bool eventRunning_ = false;
  bool closeWhenIdle_ = false;
  int exitCode_ = 0;
};

}  // namespace win32
