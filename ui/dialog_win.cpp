// Placeholder: the parameters dialog accepts at once until it lands.
#include <windows.h>

#include "ui/dialog.h"

int32_t show_parameters_dialog(int32_t, intptr_t)
{
    return 1;
}
