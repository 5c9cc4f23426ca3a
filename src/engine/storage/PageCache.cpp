#include "engine/storage/PageCache.h"

namespace tessel {

TPageStack::TPageStack(size_t initialCapacity) {
  free_.reserve(initialCapacity);
  owned_.reserve(initialCapacity);
}

TPageStack::~TPageStack() = default;

TPageHolder* TPageStack::Take(int32_t position, int index, const TIndexDesc& desc) {
  TPageHolder* page;
  if (free_.empty()) {
    owned_.push_back(std::make_unique<TPageHolder>());
    page = owned_.back().get();
  } else {
    page = free_.back();
    free_.pop_back();
  }
  page->Setup(position, index, desc);
  page->MruPrev = nullptr;
  page->MruNext = nullptr;
  page->Detached = false;
  return page;
}

void TPageStack::Give(TPageHolder* page) {
  if (page == nullptr) return;
  page->MruPrev = nullptr;
  page->MruNext = nullptr;
  page->Detached = false;
  page->InUse = 0;
  page->Modified = false;
  free_.push_back(page);
}

}  // namespace tessel
