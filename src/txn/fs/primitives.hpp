// The identity-verified file-system primitives, in one include.
#pragma once

#include "txn/fs/handle_ops.hpp"
#include "txn/fs/identity_types.hpp"
#include "txn/fs/object_identity.hpp"
#include "txn/fs/open_modes.hpp"
#include "txn/fs/protected_directory.hpp"
#include "txn/fs/resolve_relative.hpp"
#include "txn/fs/retry_budget.hpp"
#include "txn/fs/retrying.hpp"
#include "txn/fs/root_identity.hpp"
#include "txn/fs/verified_hard_link.hpp"
#include "txn/fs/verified_rename.hpp"
#include "txn/fs/verify_handle.hpp"
#include "txn/fs/volume.hpp"
#include "txn/fs/wide_path.hpp"
