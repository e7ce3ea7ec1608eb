#include "queries/queries.h"
