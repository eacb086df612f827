// Signal dispositions for the Linux platform files: installing one handler
// for a set of signals and putting the earlier dispositions back.
#pragma once

#include <csignal>
#include <initializer_list>
#include <utility>
#include <vector>

// Signal dispositions as they were before handleSignals changed them.
using Dispositions = std::vector<std::pair<int, struct sigaction>>;

// Makes `handler` handle each of `signalNumbers`, with all of them blocked
// while it runs, except those that are ignored (a run started in the
// background may ignore Ctrl+C: it stays so). `flags` are added to
// SA_RESTART. Returns the dispositions to restore.
Dispositions handleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int), int flags = 0);

void restoreDispositions(const Dispositions& earlier);
