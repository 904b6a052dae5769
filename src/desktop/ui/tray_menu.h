#pragma once
// The tray's popup menu (resource 313): its items, in order, and the
// command each sends to the main frame.

#include <array>

namespace vorlink {

inline constexpr int kCmdCustomOptions = 32775;  // no handler: shown disabled
inline constexpr int kCmdShowLog = 32777;
inline constexpr int kCmdAbout = 57664;
inline constexpr int kCmdRestart = 32773;
inline constexpr int kCmdExit = 57665;
inline constexpr int kCmdSeparator = 0;

struct TrayMenuItem {
  int command;  // kCmdSeparator for a separator
  const char16_t* text;
};

inline constexpr std::array<TrayMenuItem, 7> kTrayMenu = {{
    {kCmdCustomOptions, u"自訂選項 ..."},
    {kCmdShowLog, u"顯示執行記錄"},
    {kCmdAbout, u"版本說明"},
    {kCmdSeparator, u""},
    {kCmdRestart, u"重新啟動"},
    {kCmdSeparator, u""},
    {kCmdExit, u"結束"},
}};

}  // namespace vorlink
