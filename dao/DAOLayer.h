// Process-wide state of the DAO access layer, the call frame around every engine call and
// the layer's start-up and shut-down.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dao/Variant.h"

// The 28-byte image that FNSTENV writes and FLDENV reads (32-bit protected mode).
struct X87Environment {
  uint16_t ControlWord, Reserved1;
  uint16_t StatusWord, Reserved2;
  uint16_t TagWord, Reserved3;
  uint32_t InstructionPointer;
  uint16_t CodeSelector, Opcode;
  uint32_t OperandPointer;
  uint16_t OperandSelector, Reserved4;
};
static_assert(sizeof(X87Environment) == 28, "FNSTENV image is 28 bytes");

// COM initialisation at start-up succeeded (S_OK or S_FALSE).
extern bool ComInitialized;
// VT_ERROR / DISP_E_PARAMNOTFOUND after start-up: the value passed for an omitted argument.
extern Variant DAOMissingParam;
// The application side's and the engine side's saved x87 environments.
extern X87Environment AppFPUEnv;
extern X87Environment DAOFPUEnv;

// Stores the live x87 environment into AppFPUEnv and loads DAOFPUEnv.
void EnterDAOCall();
// Stores the live x87 environment into DAOFPUEnv and loads AppFPUEnv.
void LeaveDAOCall();

// Enters the call frame on construction and leaves it on destruction, so that the frame is
// left on every path, failures included. Frames do not nest.
class DAOCallFrame {
public:
  DAOCallFrame() { EnterDAOCall(); }
  DAOCallFrame(const DAOCallFrame&) = delete;
  DAOCallFrame& operator=(const DAOCallFrame&) = delete;
  ~DAOCallFrame() { LeaveDAOCall(); }
};

// Start-up: CoInitialize(NULL), DAOMissingParam, capture of the x87 environment. Throws
// Exception "OpDAO3x: OLE (COM) initialization failed" when COM cannot be initialised.
void InitDAOLayer();
// Shut-down: CoUninitialize when start-up initialised COM, clears DAOMissingParam and the
// Jet library name.
void DoneDAOLayer();

// The live x87 control word (for diagnostics and tests).
uint16_t CurrentX87ControlWord();
// Loads `word` into the live x87 control word.
void LoadX87ControlWord(uint16_t word);
