#pragma once
// The tray's popup menu (resource 313): its items, in order, and the
// command each sends to the main frame. The texts are translated in the
// context "vorlink::CSystemTray" when the menu is built.

#include <QtGlobal>
#include <array>

namespace vorlink {

inline constexpr int kCmdCustomOptions = 32775;  // no handler: shown disabled
inline constexpr int kCmdShowLog = 32777;
inline constexpr int kCmdAbout = 57664;
inline constexpr int kCmdRestart = 32773;
inline constexpr int kCmdExit = 57665;
inline constexpr int kCmdSeparator = 0;

struct TrayMenuItem {
  int command;       // kCmdSeparator for a separator
  const char* text;  // UTF-8
};

inline constexpr std::array<TrayMenuItem, 7> kTrayMenu = {{
    {kCmdCustomOptions, QT_TRANSLATE_NOOP("vorlink::CSystemTray", "自訂選項 ...")},
    {kCmdShowLog, QT_TRANSLATE_NOOP("vorlink::CSystemTray", "顯示執行記錄")},
    {kCmdAbout, QT_TRANSLATE_NOOP("vorlink::CSystemTray", "版本說明")},
    {kCmdSeparator, ""},
    {kCmdRestart, QT_TRANSLATE_NOOP("vorlink::CSystemTray", "重新啟動")},
    {kCmdSeparator, ""},
    {kCmdExit, QT_TRANSLATE_NOOP("vorlink::CSystemTray", "結束")},
}};

}  // namespace vorlink
