// The desktop's web browser, told truthfully: the opener starts its helper
// and returns at once, whether or not a browser will come up, so the
// desktop is first asked whether anything handles http at all.
#pragma once

#include <functional>
#include <string>

namespace tessel {

// The desktop entry that handles http ("firefox.desktop"); empty when the
// desktop names none or cannot be asked.
std::string DefaultWebHandler();

// Opens `url` in the desktop's browser; false when none will open.
bool OpenInBrowser(const std::string& url);

// How web pages are opened: the desktop's browser; tests install their own.
using UrlOpener = std::function<bool(const std::string&)>;
// Installs `opener`; an empty one puts the desktop's back.
void SetUrlOpener(UrlOpener opener);
UrlOpener& CurrentUrlOpener();

}  // namespace tessel
