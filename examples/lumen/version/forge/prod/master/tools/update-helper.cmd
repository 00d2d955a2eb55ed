@echo off
echo Lumen Forge update helper
