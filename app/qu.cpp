#include "app/qu.h"

#include <stdexcept>

#include "quarn/quarn.h"

void qu::init()
{
    if (InitializeLibrary() == -1) throw std::runtime_error("qu.init, fail to init. Quarn");
}
