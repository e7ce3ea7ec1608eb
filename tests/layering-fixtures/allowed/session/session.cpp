#include "state/context.h"
