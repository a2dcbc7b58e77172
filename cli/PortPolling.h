#pragma once
// Waiting for the port list to change: a look about four times a second, and at once when a
// simulated board announces itself or withdraws.

// How often the port list is looked at.
constexpr int PortPollMs = 250;

// Returns after ms, or earlier when the announcement folder changed or a signal asked to stop.
void WaitForPortChange(int ms = PortPollMs);
