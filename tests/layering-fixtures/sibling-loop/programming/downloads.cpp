#include "protocolswitch/switching.h"
