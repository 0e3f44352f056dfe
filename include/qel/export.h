// What the shared library exports: the facade's classes and functions marked QEL_API. Everything
// else in it, the core included, is built with hidden visibility and stays inside.
#pragma once

#define QEL_API __attribute__((visibility("default")))
