#include "link/checkcode.h"
