// The entry names the demo page uses, which are also orvane-check's defaults, and setting
// a tag of TOrvTags by the name of its property.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Orvane/OrvTags.h"

// By tag property ("VersionTag"), the entry name ("Version").
const std::vector<std::pair<std::string, std::string>>& DefaultTags();

// Sets the tag property named Property of Tags to Entry; false for an unknown property.
bool SetInfoTag(TOrvTags& Tags, const std::string& Property, const std::string& Entry);

// Gives every tag of Tags its default entry name.
void UseDefaultTags(TOrvTags& Tags);
