// orvane-sign sign: the signed entries of a page for an update file and its read-mes.
#pragma once

int Sign(int argc, char** argv);
