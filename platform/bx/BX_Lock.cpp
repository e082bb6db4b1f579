#include "BX_Lock.h"

BX_Lock::BX_Lock(bool, bool) {}
