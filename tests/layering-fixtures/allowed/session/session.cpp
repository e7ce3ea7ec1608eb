#include "state/windowsession.h"
