// The 25 exports (filled in with the job engine).
#include "orvanta/ecr.h"
