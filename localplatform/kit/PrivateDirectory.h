// Whether a directory is the user's own: one that no other user can redirect
// by planting a link or by moving what it holds.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// The permission bits of what lstat or fstat described, as "0755".
inline std::string FXOctalMode(const struct stat& info) {
  char szMode[8];
  std::snprintf(szMode, sizeof szMode, "%04o", static_cast<unsigned int>(info.st_mode & 07777));
  return szMode;
}

// Why the directory that lstat or fstat described could be redirected by
// another user: it is a symbolic link, not a directory, owned by another
// user, or writable by group or others. An empty text when it is the
// effective user's own.
inline std::string FXWhyNotPrivateDirectory(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return "it is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return "it is not a directory";
  if (info.st_uid != geteuid()) {
    return "it is owned by uid " + std::to_string(info.st_uid) + ", not by this user (uid " +
           std::to_string(geteuid()) + ")";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "group or others can write to it (mode " + FXOctalMode(info) + ")";
  }
  return std::string();
}
