// How many points and polygons one activation may make, and the messages
// that name that number. This file alone is compiled once per module: the
// host module keeps the 65536 its hosts were written for, and the module the
// programs around it load is built with CORVANE_RECORD_LIMIT set higher.
// Every pass is the same object code in both.
#include "plugin/activate.h"

#ifndef CORVANE_RECORD_LIMIT
#define CORVANE_RECORD_LIMIT 65536
#endif
#define CORVANE_QUOTE(x) #x
#define CORVANE_DECIMAL(x) CORVANE_QUOTE(x)

const int kRecordLimit = CORVANE_RECORD_LIMIT;

const char *const kMsgTooManyCorners = "ERROR:\nThe background object has more than " CORVANE_DECIMAL(
    CORVANE_RECORD_LIMIT) "\npolygon corners, more than the tool can hold.\nNothing was changed.";
const char *const kMsgModelFull = "ERROR:\nThe result would need more than " CORVANE_DECIMAL(
    CORVANE_RECORD_LIMIT) " points\nor " CORVANE_DECIMAL(CORVANE_RECORD_LIMIT) " polygons, more than the "
                                                                               "tool can hold.\nNothing was "
                                                                               "changed.";
