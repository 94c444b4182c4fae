// Start-up and shut-down of the layer: COM initialisation and its undoing.
#include <gtest/gtest.h>

#include <thread>

#include "dao/OpDAO3x.h"

namespace {

TEST(Layer, AlreadyInitialisedComCountsAsSuccessAndIsUninitialisedOnce) {
  const uint16_t saved = CurrentX87ControlWord();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);   // this thread's own initialisation
  InitDAOLayer();                            // CoInitialize answers S_FALSE
  EXPECT_TRUE(ComInitialized);
  DoneDAOLayer();
  DoneDAOLayer();   // a second shut-down does not unbalance COM
  CoUninitialize();
  // COM is now uninitialised on this thread: a new initialisation is a first one again.
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
  LoadX87ControlWord(saved);
}

TEST(Layer, ComInitialisationFailureIsReported) {
  // A thread in the multithreaded apartment cannot become single-threaded.
  std::wstring message;
  bool initialized = true;
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
      InitDAOLayer();
    } catch (const Exception& e) {
      message = e.Message();
    }
    initialized = ComInitialized;
    CoUninitialize();
  });
  worker.join();
  EXPECT_EQ(message, L"OpDAO3x: OLE (COM) initialization failed");
  EXPECT_FALSE(initialized);
}

}  // namespace
