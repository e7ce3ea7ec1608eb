#include "../session/session.h"
