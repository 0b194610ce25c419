// Gathering the candidates named on the command line and drawing one of them.
#include "app/choose.h"

#include <cstdlib>
#include <cstring>

#include "app/platform.h"

static const char* const kPatterns[] = {"*.vld", "*.tft"};

// Counts down to an injected allocation failure; 0 means none is pending.
static uint32_t s_allocations_until_failure = 0;

void FailAllocationForTesting(uint32_t nth) {
  s_allocations_until_failure = nth;
}

static void* AllocateBlock(size_t size) {
  if (s_allocations_until_failure != 0 && --s_allocations_until_failure == 0) return nullptr;
  return std::malloc(size);
}

// Puts a copy of `name` at the head of the list. Returns 0, leaving the list
// as it was, when memory runs out. The name lives in its node's own block:
// a folder of many pictures costs one allocation each, not two.
static int AddCandidate(const char* name, CandidateList** head, uint32_t& candidate_count) {
  // A count that would wrap could no longer index the list.
  if (candidate_count == UINT32_MAX) return 0;
  const size_t size = std::strlen(name) + 1;
  CandidateList* node = static_cast<CandidateList*>(AllocateBlock(sizeof(CandidateList) + size));
  if (node == nullptr) return 0;
  char* copy = reinterpret_cast<char*>(node + 1);
  std::memcpy(copy, name, size);
  node->next = *head;
  node->name = copy;
  *head = node;
  ++candidate_count;
  return 1;
}

const char* NextArgument(const char* position, char* word) {
  const char* p = position;
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == 0) return nullptr;
    const char* start;
    const char* end;
    const char* next;
    if (*p == '"') {
      start = p + 1;
      end = start;
      while (*end != 0 && *end != '"') ++end;
      next = (*end == '"') ? end + 1 : end;
    } else if (*p == '-' || *p == '/') {
      while (*p != 0 && *p != ' ') ++p;
      continue;
    } else {
      start = p;
      end = p;
      while (*end != 0 && *end != ' ') ++end;
      next = end;
    }
    size_t length = static_cast<size_t>(end - start);
    // Cut short, a word could name some other file; it is better to take none.
    if (length >= static_cast<size_t>(kPathSize)) {
      p = next;
      continue;
    }
    std::memcpy(word, start, length);
    word[length] = 0;
    return next;
  }
}

struct ScanContext {
  CandidateList* head;
  uint32_t* candidate_count;
  int full_paths;
  int out_of_memory;
};

static int VisitEntry(const char* name, uint32_t attributes, void* context) {
  ScanContext* scan = static_cast<ScanContext*>(context);
  if ((attributes & kAttrDirectory) != 0) return 1;
  char path[kPathSize];
  if (scan->full_paths) {
    if (!PlatformFullPath(name, path)) return 1;
  } else {
    size_t length = std::strlen(name);
    if (length >= static_cast<size_t>(kPathSize)) return 1;
    std::memcpy(path, name, length + 1);
  }
  if (!AddCandidate(path, &scan->head, *scan->candidate_count)) {
    scan->out_of_memory = 1;
    return 0;
  }
  return 1;
}

// Lists the current directory's picture files, "*.vld" before "*.tft".
static CandidateList* ListPictures(CandidateList* head, uint32_t& candidate_count, int full_paths,
                                   bool* out_of_memory) {
  ScanContext scan = {head, &candidate_count, full_paths, 0};
  for (const char* pattern : kPatterns) {
    PlatformListDirectory(pattern, VisitEntry, &scan);
    if (scan.out_of_memory) {
      if (out_of_memory != nullptr) *out_of_memory = true;
      break;
    }
  }
  return scan.head;
}

CandidateList* ScanDirectory(const char* directory, CandidateList* head, uint32_t& candidate_count,
                             bool* out_of_memory) {
  char saved_directory[kPathSize];
  // Without a way back, the directory is not entered at all.
  if (!PlatformGetCurrentDirectory(saved_directory)) return head;
  // A directory that cannot be entered adds nothing; listing the current one
  // instead would pass off unrelated files as the named directory's.
  if (!PlatformSetCurrentDirectory(directory)) return head;
  head = ListPictures(head, candidate_count, 1, out_of_memory);
  PlatformSetCurrentDirectory(saved_directory);
  return head;
}

CandidateList* ScanCurrentDirectory(CandidateList* head, uint32_t& candidate_count,
                                    bool* out_of_memory) {
  return ListPictures(head, candidate_count, 0, out_of_memory);
}

int GatherCandidates(const char* command_line, CandidateList* end, CandidateList** head,
                     uint32_t* count) {
  CandidateList* list = end;
  uint32_t candidate_count = 0;
  bool out_of_memory = false;
  char word[kPathSize];
  const char* position = command_line != nullptr ? command_line : "";
  while (!out_of_memory && (position = NextArgument(position, word)) != nullptr) {
    uint32_t attributes = 0;
    if (!PlatformLookUp(word, &attributes)) continue;
    if ((attributes & kAttrDirectory) != 0) {
      list = ScanDirectory(word, list, candidate_count, &out_of_memory);
    } else if (!AddCandidate(word, &list, candidate_count)) {
      out_of_memory = true;
    }
  }
  if (!out_of_memory && candidate_count == 0) {
    list = ScanCurrentDirectory(list, candidate_count, &out_of_memory);
  }
  if (out_of_memory) {
    FreeCandidates(list);
    *head = end;
    *count = 0;
    return 0;
  }
  *head = list;
  *count = candidate_count;
  return 1;
}

void FreeCandidates(CandidateList* head) {
  // Only the end node has no successor; it belongs to the caller.
  while (head != nullptr && head->next != nullptr) {
    CandidateList* next = head->next;
    std::free(head);
    head = next;
  }
}

uint32_t DrawIndex(uint32_t seed, uint32_t candidate_count) {
  if (candidate_count == 0) return 0;
  uint32_t random_state = seed;
  random_state = random_state * 214013u + 2531011u;
  uint32_t r = (random_state >> 16) & 0x7FFFu;
  return r % candidate_count;
}

uint32_t ClockSeed() {
  return PlatformClockSeconds() + PlatformMilliseconds();
}

int ChoosePicture(const char* command_line, char* name) {
  CandidateList end = {nullptr, nullptr};
  CandidateList* head = &end;
  uint32_t candidate_count = 0;
  if (!GatherCandidates(command_line, &end, &head, &candidate_count)) return 0;
  if (candidate_count == 0) return 0;
  uint32_t index = DrawIndex(ClockSeed(), candidate_count);
  const CandidateList* chosen = head;
  for (uint32_t i = 0; i < index; ++i) chosen = chosen->next;
  // Every name was checked to fit when it was added.
  std::memcpy(name, chosen->name, std::strlen(chosen->name) + 1);
  FreeCandidates(head);
  return 1;
}
