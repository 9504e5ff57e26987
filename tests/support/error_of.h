#pragma once
// Runs f and returns the message of the Exception it raises ("" if none).
#include <string>

#include "base/errors.h"

template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}
