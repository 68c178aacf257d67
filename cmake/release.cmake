# The release's date and changelog, from NEWS, so that a build from a source
# tarball without git has them too.
#
# NEWS holds one entry a release, newest first: a line "pciannotate VERSION
# (YYYY-MM-DD)", then paragraphs and "- " items. This sets PCIANNOTATE_DATE
# (the newest release's date) and PCIANNOTATE_EPOCH (its midnight UTC in
# seconds since 1970), and writes NEWS in the format of a Debian changelog,
# which lintian requires of a package like this one, to changelog.

# Days since 1970-01-01 of the civil date y-m-d.
function(daysof out y m d)
  math(EXPR mar "(${m} + 9) % 12")  # months from March, so that February is last
  if(mar GREATER_EQUAL 10)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR era "${y} / 400")
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + (153 * ${mar} + 2) / 5 + ${d} - 1")
  math(EXPR days "${era} * 146097 + ${doe} - 719468")
  set(${out} ${days} PARENT_SCOPE)
endfunction()

set(heading "^pciannotate ([^ ]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
file(STRINGS ${PROJECT_SOURCE_DIR}/NEWS news)
list(GET news 0 top)
if(NOT top MATCHES "${heading}" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "NEWS must begin with \"pciannotate ${PROJECT_VERSION} (YYYY-MM-DD)\", not \"${top}\"")
endif()
set(PCIANNOTATE_DATE "${CMAKE_MATCH_2}-${CMAKE_MATCH_3}-${CMAKE_MATCH_4}")
daysof(days ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
math(EXPR PCIANNOTATE_EPOCH "${days} * 86400")

# An entry is its heading, its changes indented ("- " items and paragraphs
# become "* " items), and a trailer with who built the package and when.
set(weekdays Thu Fri Sat Sun Mon Tue Wed)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(maintainer "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
if(NOT maintainer)
  set(maintainer "${PROJECT_NAME}")
endif()
set(changelog "")
set(trailer "")
set(item OFF)  # inside an item: its next line is a continuation
foreach(line IN LISTS news)
  if(line MATCHES "${heading}")
    daysof(days ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    math(EXPR wd "${days} % 7")
    list(GET weekdays ${wd} weekday)
    math(EXPR mi "${CMAKE_MATCH_3} - 1")
    list(GET months ${mi} month)
    math(EXPR day "${CMAKE_MATCH_4}")
    string(APPEND changelog "${trailer}${PROJECT_NAME} (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${maintainer}  ${weekday}, ${day} ${month} ${CMAKE_MATCH_2} 00:00:00 +0000\n\n")
    set(item OFF)
  elseif(line STREQUAL "")
    set(item OFF)
  elseif(line MATCHES "^- (.*)")
    string(APPEND changelog "  * ${CMAKE_MATCH_1}\n")
    set(item ON)
  elseif(item)
    string(STRIP "${line}" line)
    string(APPEND changelog "    ${line}\n")
  else()
    string(APPEND changelog "  * ${line}\n")
    set(item ON)
  endif()
endforeach()
string(REGEX REPLACE "\n\n$" "\n" trailer "${trailer}")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/changelog CONTENT "${changelog}${trailer}")
