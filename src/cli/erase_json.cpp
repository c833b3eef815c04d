#include "cli/erase_json.hpp"

namespace fw::cli {

namespace {

Json EraseMethodsJson(const DriveEraseFacts& facts) {
  Json methods = Json::array();
  for (const EraseMethodState& s : EraseMethodStates(facts)) {
    methods.push_back({{"method", EraseMethodWord(s.method)},
                       {"available", s.available()},
                       {"reason", s.available() ? Json(nullptr) : Json(EraseRefusalWord(s.refusal))},
                       {"category", EraseCategoryWord(s.category)}});
  }
  return methods;
}

// An NVMe namespace has no host protected area to hide sectors in.
Json HiddenSectorsJson(const DriveEraseFacts& facts) {
  if (facts.hidden) return facts.hidden->hiddenSectors();
  if (facts.media == MediaType::Nvme) return 0;
  return nullptr;
}

}  // namespace

void AddEraseFacts(Json& document, const DriveEraseFacts& facts) {
  document["erase_methods"] = EraseMethodsJson(facts);
  document["native_sectors"] = facts.hidden ? Json(facts.hidden->nativeSectors) : Json(nullptr);
  document["hidden_sectors"] = HiddenSectorsJson(facts);
}

}  // namespace fw::cli
