#include "group_folders.h"

namespace varnok::tessaly {

std::vector<hublet::NodeRecord> group_folders(const std::vector<hublet::NodeRecord>& objects,
                                              int namespace_index) {
  std::vector<hublet::NodeRecord> out;
  for (const auto& record : objects) {
    if (record.node_type == hublet::HUBLET_NODETYPE_OBJECT && record.namespace_index == namespace_index)
      out.push_back(record);
  }
  return out;
}

}  // namespace varnok::tessaly
