// The error text of a configuration file that could not be opened, the same
// for every reader. Which causes count as an absent file, and so as no error,
// is each reader's own rule.
#pragma once

#include "platform/mfc/CString.h"
#include "platform/mfc/FileException.h"

namespace ConfigOpenError {

// "Cannot open configuration file: " and the failure's description, which
// names the file and is cut to 99 characters.
CString Text(const CFileException& failure);

}  // namespace ConfigOpenError
