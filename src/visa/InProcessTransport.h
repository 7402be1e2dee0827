// Library-internal: how viOpen finds in-process attachments.
#pragma once

#include <memory>

#include "ResourceName.h"
#include "Transport.h"

namespace visa::detail {

// True when an attachment exists for name; then status and transport hold the open's result.
bool OpenInProcess(const ResourceName& name, ViStatus& status,
                   std::unique_ptr<Transport>& transport);
bool ResourceManagerFails();

}  // namespace visa::detail
