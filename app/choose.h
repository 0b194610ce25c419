// Gathering candidate picture files from the command line and picking one.
#pragma once

#include <cstdint>

#include "app/viewer_state.h"

struct CandidateList {
  CandidateList* next;  // the node added before this one, or the end node
  char* name;           // zero-terminated, kept in the node's own block
};

// Copies the next word that is no option into `word` (kPathSize bytes) and
// returns the position to go on from; returns nullptr when no word is left.
// A word too long for the buffer names nothing and is passed over.
const char* NextArgument(const char* position, char* word);

// Add the named directory's (by full path) or the current directory's (by bare
// name) "*.vld" then "*.tft" files at the head of the list, skipping
// subdirectories and names that would not fit kPathSize bytes. A directory
// that cannot be entered adds nothing; the current directory is always the
// same afterwards. On running out of memory they set *out_of_memory (when
// given) and return the head built so far.
CandidateList* ScanDirectory(const char* directory, CandidateList* head, uint32_t& candidate_count,
                             bool* out_of_memory = nullptr);
CandidateList* ScanCurrentDirectory(CandidateList* head, uint32_t& candidate_count,
                                    bool* out_of_memory = nullptr);

// Builds the whole candidate list for a command line, ending at `end`, with the
// current-directory fallback. Returns 1 (with *head and *count set, possibly an
// empty list) or 0 when memory ran out (everything freed, *head = end).
int GatherCandidates(const char* command_line, CandidateList* end, CandidateList** head,
                     uint32_t* count);
// Frees every node from `head` up to (not including) the end node.
void FreeCandidates(CandidateList* head);

// The viewer's own generator: one draw from `seed`, reduced to an index.
uint32_t DrawIndex(uint32_t seed, uint32_t candidate_count);
// Seconds since 1970 plus milliseconds since the system started, wrapping.
uint32_t ClockSeed();

// Returns 1 and copies the chosen name into `name` (kPathSize bytes), or 0
// when there is no candidate or memory ran out (then `name` is left as it was).
int ChoosePicture(const char* command_line, char* name);

// Tests only: makes the nth allocation of a candidate node or name from now on
// fail (1 = the very next one); 0 turns the failure off.
void FailAllocationForTesting(uint32_t nth);
