#include "app/windowclasses.h"

#include "app/dialogbuilder.h"
#include "app/ipaddrctl.h"
#include "resources/dialogs.h"

namespace tessel {

void RegisterWindowClasses()
{
    // The control's style comes from its template row.
    RegisterControlClass(kIPAddrClass, [](QWidget* parent, const ControlTemplate& item) -> QWidget* {
        return new CIPAddrCtl(parent, (item.style & style::NoValidate) ? IPAS_NOVALIDATE : 0);
    });
}

}  // namespace tessel
