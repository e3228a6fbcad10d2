// The window classes that the dialog templates name: registered once at
// start-up, before the first dialog is built.
#pragma once

namespace tessel {

void RegisterWindowClasses();

}  // namespace tessel
