#include "signals.h"

Dispositions handleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART | flags;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : signalNumbers) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    Dispositions earlier;
    for (const int signalNumber : signalNumbers) {
        struct sigaction before {};
        ::sigaction(signalNumber, nullptr, &before);
        earlier.emplace_back(signalNumber, before);
        if (before.sa_handler != SIG_IGN) {
            ::sigaction(signalNumber, &action, nullptr);
        }
    }
    return earlier;
}

void restoreDispositions(const Dispositions& earlier)
{
    for (const auto& [signalNumber, before] : earlier) {
        ::sigaction(signalNumber, &before, nullptr);
    }
}
