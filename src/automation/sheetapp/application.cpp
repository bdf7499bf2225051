#include "automation/sheetapp/sheetapp.h"

namespace sheetapp {

automation::DispatchPtr createApplication()
{
    return nullptr;
}

} // namespace sheetapp
