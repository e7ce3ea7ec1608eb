#include <session/session.h>
