# Writes a C++ source holding every profile as a raw string literal (run with cmake -P).
# OUTPUT: the source to write; PROFILES: the JSON files, separated by "|".
string(REPLACE "|" ";" files "${PROFILES}")
list(SORT files)
set(delimiter "tarnwick_profile")
set(body "")
set(table "")
foreach(file ${files})
    get_filename_component(name ${file} NAME_WE)
    file(READ ${file} text)
    string(FIND "${text}" ")${delimiter}\"" clash)
    if(NOT clash EQUAL -1)
        message(FATAL_ERROR "${file} contains the raw-string delimiter )${delimiter}\"")
    endif()
    string(MAKE_C_IDENTIFIER "${name}" id)
    string(APPEND body "constexpr std::string_view k_${id} = R\"${delimiter}(${text})${delimiter}\";\n")
    string(APPEND table "    BuiltinProfile{\"${name}\", k_${id}},\n")
endforeach()
list(LENGTH files count)
file(WRITE ${OUTPUT}.tmp "#include <array>\n\n#include \"sim/BuiltinProfiles.h\"\n\nnamespace {\n${body}\
const std::array<BuiltinProfile, ${count}> kProfiles{\n${table}};\n}  // namespace\n\n\
std::span<const BuiltinProfile> builtinProfiles() { return kProfiles; }\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
