#include "app/windowclasses.h"

#include "app/dialogbuilder.h"
#include "app/ipaddrctl.h"
#include "resources/dialogs.h"

namespace tessel {

void RegisterWindowClasses()
{
    RegisterControlClass(kIPAddrClass, [](QWidget* parent, const ControlTemplate&) -> QWidget* {
        return new CIPAddrCtl(parent);
    });
}

}  // namespace tessel
