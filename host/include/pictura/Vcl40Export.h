// VCL40_EXPORT: marks what the framework library vcl40 offers to programs and packages.
//
// vcl40 is built with hidden visibility: only what this macro marks is in the shared library's dynamic
// symbol table, and so in its ABI. The rule:
// - mark every class and every free function that a public header (host/include/pictura/) declares, when
//   it has code or data in the library: whole classes (class VCL40_EXPORT TControl), so that their
//   metaobjects, vtables and typeinfo are the library's, and error classes, so that programs catch them;
// - constants, enums, inline functions and templates need no mark;
// - never mark internal code (the headers beside the sources in host/). The project's tests, benchmarks
//   and fuzzers reach it by linking Pictura::Static; the tools and other programs use only what is marked.
#pragma once

#define VCL40_EXPORT __attribute__((visibility("default")))
