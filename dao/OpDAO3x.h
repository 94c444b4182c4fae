// The DAO access layer: the only code that talks to the DAO engine.
//   Exception.h     the shared base failure type
//   Variant.h       the shared Variant and its conversion into automation variants
//   DAOFailures.h   EDAOError, EDAOConvError, DAOProbeFailure
//   DAOGuard.h      structured exceptions escaping engine code (EDAOExternalError)
//   DAOLayer.h      process-wide state, the x87 call frame, InitDAOLayer / DoneDAOLayer
//   DAOWrappers.h   DAOBase and its descendants with their engine operations
//   DAOEngine.h     generation selection and engine creation (DAOLocalEngine, CreateDAOEngine)
//   DAOHooks.h      replaceable CoGetClassObject / LoadLibraryW for tests (not included here)
#pragma once

#include "dao/Exception.h"
#include "dao/Variant.h"
#include "dao/DAOFailures.h"
#include "dao/DAOGuard.h"
#include "dao/DAOLayer.h"
#include "dao/DAOWrappers.h"
#include "dao/DAOEngine.h"
