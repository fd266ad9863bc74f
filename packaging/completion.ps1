# PowerShell completion for plcfwupdate (plcfwupdate-cli.exe on Windows) and plcsim, read as the
# bash completion's: the options from each program's --help, the models from its --list-models,
# the ports from --list-ports for the model the command line names so far, plcsim's faults from
# the fault syntax in its --help. Dot-source it from the profile, e.g.
#   . "C:\Program Files\Korvel\PLC Firmware Update\completion.ps1"

Register-ArgumentCompleter -Native -CommandName plcfwupdate, plcfwupdate-cli, plcfwupdate-cli.exe, plcsim -ScriptBlock {
    param($wordToComplete, $commandAst, $cursorPosition)

    # Every spelling at the start of an option's line: "-q, --quiet", "--port NAME|PATH".
    function PlcOptions([string] $Program) {
        foreach ($line in (& $Program --help 2>$null)) {
            if ($line -cmatch '^  -') {
                $head = ($line.Substring(2) -split '  +')[0]
                foreach ($w in ($head -split '[ ,]+')) { if ($w.StartsWith('-')) { $w } }
            }
        }
    }

    # "ACTION:" for each action and shorthand, "ACTION:KIND" where the action takes a target,
    # the bare action where its argument is optional ("runmode[:KIND]").
    function PlcFaults([string] $Program) {
        $words = [System.Collections.Generic.SortedSet[string]]::new()
        $kinds = @()
        $targets = @()
        $on = $false
        $inKinds = $false
        foreach ($line in (& $Program --help 2>$null)) {
            if ($line -cmatch '^Request kinds:(.*)$') { $kinds = -split $Matches[1]; $inKinds = $true; continue }
            if ($inKinds -and $line -cmatch '^  (.*)$') { $kinds += -split $Matches[1]; continue }
            $inKinds = $false
            if ($line -cmatch '^Faults') { $on = $true }
            if (-not $on) { continue }
            if ($line -cmatch '^  ([a-z-]+)(\S*)') {
                $name = $Matches[1]
                $rest = $Matches[2]
                [void]$words.Add($name + ':')
                if ($rest.StartsWith('[')) { [void]$words.Add($name) }
                if ($rest.Contains(':TARGET')) { $targets += $name }
            }
            if ($line -cmatch 'also ([a-z-]+):TARGET') {
                [void]$words.Add($Matches[1] + ':')
                $targets += $Matches[1]
            }
            if ($line -cmatch '^  Shorthands:') {
                foreach ($m in [regex]::Matches($line, '(?<=[ ,])([a-z-]+):')) {
                    [void]$words.Add($m.Groups[1].Value + ':')
                }
            }
        }
        foreach ($t in ($targets | Sort-Object -Unique)) {
            foreach ($k in $kinds) { [void]$words.Add($t + ':' + $k) }
        }
        $words
    }

    $words = @($commandAst.CommandElements |
        Where-Object { $_.Extent.EndOffset -le $cursorPosition } | ForEach-Object { $_.Extent.Text })
    $program = $words[0]
    $prev = if ($wordToComplete -eq '') { $words[-1] } else { $words[-2] }
    $candidates = switch -Exact ($prev) {
        '--model' {
            & $program --list-models 2>$null | Where-Object { $_ -notmatch '^#' } |
                ForEach-Object { (-split $_)[0] }
        }
        { $_ -in '--port', '-p' } {
            # The ports of the model of the command line so far, and the network links.
            $model = @()
            for ($i = 1; $i -lt $words.Count - 1; $i++) {
                if ($words[$i] -in '--model', '--image') { $model += $words[$i], $words[$i + 1] }
            }
            # A usb: name that a shell would split is listed in double quotes.
            & $program @model --list-ports 2>$null | ForEach-Object { ($_ -split "`t")[0].Trim('"') }
            'tcp://'
            'rfc2217://'
        }
        '--fault' {
            # The kinds only once the action is typed.
            PlcFaults $program | Where-Object { $wordToComplete.Contains(':') -or $_ -notmatch ':.' }
        }
        '--start' { 'app'; 'boot' }
        default { if ($wordToComplete.StartsWith('-')) { PlcOptions $program } }
    }
    # Nothing offered: PowerShell offers the file names.
    $pattern = [WildcardPattern]::Escape($wordToComplete) + '*'
    $candidates | Where-Object { $_ -like $pattern } | ForEach-Object {
        $text = if ($_ -match '[\s()#&;,{}@$`'']') { "'" + ($_ -replace "'", "''") + "'" } else { $_ }
        [System.Management.Automation.CompletionResult]::new($text, $_, 'ParameterValue', $_)
    }
}
