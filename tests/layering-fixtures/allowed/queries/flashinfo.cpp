#include "programming/flashcheck.h"
