/* The shared library's own translation unit: everything it exports lives in
   the core archive, linked in whole; this file only gives the target a source. */
#include "orvanta/ecr.h"
