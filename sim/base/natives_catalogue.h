// A user's own copy of the community's natives catalogue (a JSON object of
// namespaces, each keyed by hash), read into the simulator's signatures so
// that rebound-sim --natives can accept natives its own table lacks.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/native_table.h"

namespace sim {

// A catalogue that cannot be read, or is not of the catalogue's shape. The
// message names the file and, where one is to blame, the line and field.
class NativesCatalogueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct NativesCatalogue {
  std::string fileName;                  // as the user gave it, for messages
  std::vector<NativeSignature> natives;  // in file order; every one answered by default
};

// Reads the catalogue from `text`; `fileName` only names it in messages.
// Throws NativesCatalogueError.
NativesCatalogue ParseNativesCatalogue(const std::string& fileName, std::string_view text);
// Reads the catalogue from the file at `path`. Throws NativesCatalogueError.
NativesCatalogue ReadNativesCatalogue(const std::string& path);

}  // namespace sim
