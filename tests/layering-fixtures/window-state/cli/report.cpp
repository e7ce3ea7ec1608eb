#include "state/infostate.h"
