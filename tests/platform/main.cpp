// Test programs for the Windows bindings: the utility initialises COM once, as a single-threaded
// apartment on its UI thread, and the tests run the same way.
#include <gtest/gtest.h>

#include "platform/win32/handles/handles.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const handles::unique_apartment apartment;
  if (FAILED(apartment.status())) return 1;
  return RUN_ALL_TESTS();
}
