// Starts the DAO access layer for one test (InitDAOLayer) and shuts it down again
// (DoneDAOLayer), restoring the x87 control word the test began with. The engine side of the
// call frame gets a control word of its own (24-bit precision, all exceptions masked) that
// differs from the application side's, so that recorded control words show on which side
// of the frame an engine call ran.
#pragma once

#include <cstdint>

#include "dao/DAOLayer.h"

namespace fakedao {

inline constexpr uint16_t EngineSideControlWord = 0x007F;

class LayerSession {
public:
  LayerSession() : FSaved(CurrentX87ControlWord()) {
    InitDAOLayer();
    DAOFPUEnv.ControlWord = EngineSideControlWord;
    AppSide = CurrentX87ControlWord();
  }
  LayerSession(const LayerSession&) = delete;
  LayerSession& operator=(const LayerSession&) = delete;
  ~LayerSession() {
    DoneDAOLayer();
    LoadX87ControlWord(FSaved);
  }
  // The application side's control word after start-up.
  uint16_t AppSide = 0;

private:
  uint16_t FSaved;
};

}  // namespace fakedao
