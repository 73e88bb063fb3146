#include "ServiceAddress.h"
