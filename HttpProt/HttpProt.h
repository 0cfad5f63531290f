// Unit HttpProt: the HTTP client component and its URL, encoding and date routines.
#pragma once

#include "HttpProt/Encoding.h"
#include "HttpProt/HttpCli.h"
#include "HttpProt/HttpDate.h"
#include "HttpProt/Url.h"
