// Where an exception goes that escaped a window procedure or an internal callback.
#pragma once

#include <exception>

namespace plat::detail {

// Hands it to the installed handler, or to stderr.
void ReportDispatchException(std::exception_ptr error) noexcept;

}  // namespace plat::detail
