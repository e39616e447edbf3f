// The driver registry and the dispatcher: one long-lived logic object per
// class, the one serial object and the one socket object, all built before
// the first export runs; the type-code table; the start of a job.
#pragma once

#include <atomic>
#include <cstdint>

#include "comm/socket.h"
#include "comm/telepathy.h"
#include "job/logic_ecr.h"
#include "orvanta/ecr.h"

namespace orv::api {

CTelepathy& Serial();
CTelepathySocket& Socket();

// The logic object for a type code and connection kind, or null when no
// class serves the code.
CLogicECR* SelectLogic(int type, int kind);
// Class name of that object ("CS6_ECR", ...), or null.
const char* SelectLogicName(int type, int kind);
// The registry's object of a class, or null.
CLogicECR* FindLogic(const char* className);
int LogicCount();
// The CS6_ECR object: the current object before the host's EcrCreate.
CLogicECR& DefaultLogic();

// Host-side state of the exports.
std::atomic<bool>& BusyFlag();
CLogicECR* CurrentLogic();
void SetCurrentLogic(CLogicECR* logic);
// The current object, or the CS6_ECR object while there is none.
CLogicECR& CurrentOrDefault();
// The object an error of a refused job goes to: the current one; while there
// is none, the CS6_ECR object, which becomes current so that EcrError and
// EcrErrMsg report that error.
CLogicECR& CurrentForRefusal();

// Stores the job code, selects the object by the record copy's type code
// and kind, and starts it. 1 when the job runs; 0 (busy flag cleared, error
// 999999 unless the object already holds a code) when not.
int EcrDispatch(uint32_t jobCode);
// Clears the object's error, lends it the transports, clears every break
// flag, makes it current and starts it.
int StartJob(CLogicECR* logic, EcrWindow window, uint32_t message);

// Test seam: while set, the class's selections give `logic` instead of the
// registry's object (null restores it).
void SetTestLogic(const char* className, CLogicECR* logic);
void ClearTestLogics();

}  // namespace orv::api
