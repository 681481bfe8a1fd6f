#pragma once

#include "platform/BrowserAutomation.h"

#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// A browser the permissions page lists.
struct BrowserInfo
{
    QString name;
    QString bundleId;
};

// "Add Rule for Current Webpage…": the host of the page the frontmost browser shows, for a DOMAIN-SUFFIX
// rule.
namespace WebpageCapture {

// The scripting request that asks a browser for its current page; nothing for other applications.
std::optional<QString> scriptFor(const QString& bundleId);
// The browsers of the script table and those the Linux layer reads, with their display names.
const QList<BrowserInfo>& supportedBrowsers();
// The host of a page's address, without a leading "www."; nothing when the text is no URL with a host.
std::optional<QString> hostFromPage(const QString& text);

struct Result
{
    std::optional<QString> host;
    QString problem; // why there is no host, in the user's words
};

// Reads the frontmost browser's current page and takes its host.
Result capture(BrowserAutomation& automation);

} // namespace WebpageCapture
} // namespace tarnwick
