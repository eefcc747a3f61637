// The run sequence of one invocation of the tool.
#pragma once

// Reads the command line, checks it, runs the probe and the command's dialogue. Returns the exit
// status for failures found before the network is touched; once the link has started, every run
// ends inside through shutdown_and_exit.
int run_tool(int argc, char** argv);
