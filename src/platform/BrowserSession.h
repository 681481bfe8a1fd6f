#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarnwick {

// The page a browser shows, read from the session files browsers keep so that they can restore their
// windows: Firefox's sessionstore (JSON, mozLz4-compressed) and the Chromium family's "SNSS" session
// files. Browsers write them a few seconds after a change (Firefox every 15 seconds at most), so the page
// read is the one shown a few seconds ago.
namespace BrowserSession {

// The address of the selected tab of the selected window in a Firefox session (the decompressed JSON).
std::optional<QString> firefoxCurrentUrl(const QByteArray& json);
// The same for a Chromium session file: its commands replayed to the active window's selected tab.
std::optional<QString> chromiumCurrentUrl(const QByteArray& snss);

// A Firefox profile directory's session file, decompressed and read; nothing when there is none.
std::optional<QString> firefoxProfileUrl(const QString& profileDirectory);
// The profile Firefox starts with, from profiles.ini in `firefoxRoot` (~/.mozilla/firefox).
std::optional<QString> firefoxDefaultProfile(const QString& firefoxRoot);
// The newest session file of a Chromium profile directory (…/Default); empty when there is none.
QString chromiumSessionFile(const QString& profileDirectory);

} // namespace BrowserSession
} // namespace tarnwick
