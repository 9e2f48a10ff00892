# The plain-value units of HTTP, in one list: the Windows build, the fuzz
# targets, the native stamping tool and the native build check all take it.
set(SETUP_HTTP_SOURCES url.cpp request.cpp head.cpp head_reader.cpp body_rules.cpp date.cpp proxy_rules.cpp redirect.cpp
    resume_rules.cpp range_plan.cpp)
